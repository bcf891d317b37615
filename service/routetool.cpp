#include "service/routetool.h"

RouteTool::~RouteTool() = default;
