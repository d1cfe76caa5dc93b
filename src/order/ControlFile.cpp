#include "order/PrintServiceDlg.h"
