#include "app/handles.h"

HINSTANCE appInstance = nullptr;
