#pragma once

#include <QPixmap>

/** The four 21 x 18 check images of the alarm list: 0 unchecked, 1 checked, 2 and 3 the same under the mouse. */
QPixmap CheckImage(int index, qreal devicePixelRatio);

inline constexpr int kCheckImageWidth = 21;
inline constexpr int kCheckImageHeight = 18;
