#pragma once

class SettingsCheckBox;

// The one or two check boxes of one line of a check box group.
struct CheckBoxPair
{
    SettingsCheckBox* first = nullptr;
    SettingsCheckBox* second = nullptr;
};
