#include "platform/linux/PlatformLog.h"

Q_LOGGING_CATEGORY(lcPlatform, "larkbell.platform")
