#pragma once

#include <QColor>

/** Colours of the alarm list and the floating clock, one record for the whole program. */
struct TMgTheme {
    struct StateColours {
        QColor gradientTop;
        QColor gradientBottom;
        QColor line;
        QColor text;
    };

    StateColours normal{QColor(247, 247, 247), QColor(234, 234, 234), QColor(176, 176, 176), QColor(40, 40, 40)};
    StateColours selected{QColor(221, 236, 253), QColor(193, 220, 253), QColor(125, 162, 206), QColor(40, 40, 40)};
    StateColours hovered{QColor(239, 245, 254), QColor(224, 238, 254), QColor(125, 162, 206), QColor(40, 40, 40)};
    QColor soundText{104, 104, 104};
    QColor selectedBackground{235, 244, 253};
    QColor frame{125, 162, 206}; // lines around the list and the panel
    int fontSize = 10;           // points; the family is the desktop's, as the Windows face is rarely installed

    static const TMgTheme& Default()
    {
        static const TMgTheme theme;
        return theme;
    }
};
