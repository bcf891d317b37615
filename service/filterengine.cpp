#include "service/filterengine.h"

FilterEngine::~FilterEngine() = default;
