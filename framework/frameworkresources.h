#pragma once

// The framework's pictures and fonts are compiled into each module's own copy of the library;
// a static library's resource tree is only registered when someone asks for it. Every entry
// point of the card UI calls this; calling it again costs nothing.
void initFrameworkResources();

// Registers the card UI's application fonts (needs the GUI application); true when all four
// loaded. Later calls return the first result.
bool registerApplicationFonts();
