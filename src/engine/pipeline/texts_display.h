// Texts of the level meters and the spectrum display.
#pragma once

namespace kestrel::text::display {

// A level meter's figure: 10 x log10 of the mean level.
inline constexpr const char* kMeterFigure = "%02.1fdB";
// Tips of the display buttons.
inline constexpr const char* kZoomInTip = "增加频谱显示宽度";
inline constexpr const char* kZoomOutTip = "减少频谱显示宽度";
inline constexpr const char* kDisplayModeTip =
    "界面颜色更换及频谱显示类型切换，提供五种颜色方式选择";

} // namespace kestrel::text::display
