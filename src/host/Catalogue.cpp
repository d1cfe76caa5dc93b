#include "host/Catalogue.h"
