#pragma once

class SettingsSlider;
class SettingsSliderValue;

// A settings slider and the label that shows its value.
struct SliderWithValue
{
    SettingsSlider* slider = nullptr;
    SettingsSliderValue* value = nullptr;
};
