#include "host/HostFiles.h"
