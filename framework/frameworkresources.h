#pragma once

#include <QByteArray>
#include <QList>

// The framework's pictures and fonts are compiled into each module's own copy of the library;
// a static library's resource tree is only registered when someone asks for it. Every entry
// point of the card UI calls this; calling it again costs nothing.
void initFrameworkResources();

// The card UI's four application font files, read from the resources; safe on any thread.
QList<QByteArray> readApplicationFonts();

// Registers the card UI's application fonts (needs the GUI application); true when all four
// loaded. `files` are those of readApplicationFonts() when read ahead; left empty they are read
// here. Later calls return the first result.
bool registerApplicationFonts(const QList<QByteArray>& files = {});
