#pragma once

#include <QAnyStringView>
#include <QIcon>

/**
 * One of the program's own icons (resources/icons/NAME.svg), from the sizes rendered at build time.
 * A size is read when it is first painted, and a size in between is scaled from the next larger one.
 */
QIcon AppIcon(QAnyStringView name);
