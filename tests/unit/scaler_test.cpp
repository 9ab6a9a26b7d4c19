#include "video/scaler.h"
