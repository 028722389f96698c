#pragma once

#include <QColor>
#include <QPalette>

/**
 * Colours of the alarm list and the floating clock. The light set is the program's own look; on a dark
 * palette every colour is taken from the palette's roles instead, so the list never shows white items
 * with dark text in a dark desktop.
 */
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
    // The floating clock while an alarm rings: a warm pair that stands out against the normal one.
    StateColours ringing{QColor(255, 236, 179), QColor(255, 200, 87), QColor(214, 135, 0), QColor(40, 40, 40)};
    QColor soundText{104, 104, 104};
    QColor background{255, 255, 255}; // behind an item's gradient
    QColor selectedBackground{235, 244, 253};
    QColor frame{125, 162, 206}; // lines around the list and the panel

    // The check images of the list.
    QColor checkBorder{120, 120, 120};
    QColor checkBorderHot{51, 122, 204};
    QColor checkFill{255, 255, 255};
    QColor checkFillHot{232, 242, 255};
    QColor checkTick{34, 130, 60};

    int fontSize = 10; // points; the family is the desktop's, as the Windows face is rarely installed

    bool dark = false;

    /** The light colours. */
    static const TMgTheme& Default()
    {
        static const TMgTheme theme;
        return theme;
    }

    /** Whether palette draws light text on a dark ground. */
    static bool IsDark(const QPalette& palette)
    {
        return palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
    }

    /** The light colours for a light palette; colours mixed from the palette's roles for a dark one. */
    static TMgTheme ForPalette(const QPalette& palette)
    {
        if (!IsDark(palette))
            return Default();
        const QColor base = palette.color(QPalette::Base);
        const QColor text = palette.color(QPalette::Text);
        const QColor highlight = palette.color(QPalette::Highlight);
        // Warm like the light pair, but dark enough for the palette's light text.
        const QColor warm(255, 170, 0);
        TMgTheme theme;
        theme.dark = true;
        // Lighter at the top, as in the light set, so the items keep their relief.
        theme.normal = {Mix(base, text, 0.10), Mix(base, text, 0.04), Mix(base, text, 0.30), text};
        theme.selected = {Mix(base, highlight, 0.45), Mix(base, highlight, 0.35), highlight, text};
        theme.hovered = {Mix(base, highlight, 0.22), Mix(base, highlight, 0.14), Mix(base, highlight, 0.70), text};
        theme.ringing = {Mix(base, warm, 0.40), Mix(base, warm, 0.28), warm, text};
        theme.soundText = Mix(text, base, 0.30);
        theme.background = base;
        theme.selectedBackground = Mix(base, highlight, 0.30);
        theme.frame = Mix(base, highlight, 0.70);
        theme.checkBorder = Mix(base, text, 0.60);
        theme.checkBorderHot = Mix(base, highlight, 0.85).lighter(130);
        theme.checkFill = Mix(base, text, 0.08);
        theme.checkFillHot = Mix(base, highlight, 0.25);
        theme.checkTick = Mix(text, QColor(60, 200, 100), 0.70);
        return theme;
    }

    /** a moved towards b by the fraction t (0 gives a, 1 gives b). */
    static QColor Mix(const QColor& a, const QColor& b, double t)
    {
        const auto channel = [t](int from, int to) { return qRound(from + (to - from) * t); };
        return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()), channel(a.blue(), b.blue()));
    }
};
