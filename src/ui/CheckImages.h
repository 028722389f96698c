#pragma once

#include "ui/Theme.h"

#include <QPixmap>

/**
 * The four 21 x 18 check images of the alarm list: 0 unchecked, 1 checked, 2 and 3 the same under the
 * mouse; in the theme's colours.
 */
QPixmap CheckImage(int index, qreal devicePixelRatio, const TMgTheme& theme = TMgTheme::Default());

inline constexpr int kCheckImageWidth = 21;
inline constexpr int kCheckImageHeight = 18;
