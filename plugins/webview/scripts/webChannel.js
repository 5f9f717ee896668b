window.willReceiveWebChannel = true;
window.debugAlert = function (message) { console.log(message); };
(function () {
    if (typeof qt === "undefined" || qt === null) { debugAlert("qt == null"); return; }
    if (qt.webChannelTransport === null || qt.webChannelTransport === undefined) {
        debugAlert("qt.webChannelTransport == null");
        return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
        if (channel === null) { debugAlert("channel == null"); return; }
        if (channel.objects === null) { debugAlert("channel.objects == null"); return; }
        window.webChannelObjects = channel.objects;
    });
})();
