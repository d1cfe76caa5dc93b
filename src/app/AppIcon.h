#pragma once

#include <QIcon>

// Icon 128, the application icon, in its three sizes (16, 32 and 48 pixels), from the
// program's compiled-in resources.
QIcon ApplicationIcon();
