window.willReceiveWebChannel = true;
