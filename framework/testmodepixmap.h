#pragma once

#include <QCoreApplication>
#include <QPixmap>

// A device picture stamped "TEST MODE" in red, the text as large as fits the given box.
class TestModePixmap : public QPixmap
{
    Q_DECLARE_TR_FUNCTIONS(TestModePixmap)
public:
    TestModePixmap(const QPixmap& source, int width, int height, int yOffset);
};
