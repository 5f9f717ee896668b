#pragma once

#include <Qt>

// Spacing, margins and columns of a group of controls laid out in a grid.
struct GridGroupLayout
{
    int horizontalSpacing = 0;
    int verticalSpacing = 0;
    int alignment = 0;
    // Buttons per row of an image group; 0 or less puts them all in one row.
    int columns = 0;
    int horizontalMargin = 0;
    int verticalMargin = 0;
    int captionTopMargin = 0;

    static GridGroupLayout checkBoxGroup()
    {
        return {30, 7, int(Qt::AlignLeft | Qt::AlignTop), 2, 16, 0, 4};
    }
    static GridGroupLayout radioGrid()
    {
        return {30, 6, int(Qt::AlignLeft | Qt::AlignTop), 2, 16, 4, 4};
    }
    static GridGroupLayout uncaptionedImageGroup()
    {
        return {27, 0, int(Qt::AlignHCenter | Qt::AlignTop), 0, 78, 16, 10};
    }
};
