#include "common/servicecontroller.h"

ServiceController::ServiceController(const QString &name) : m_name(name) {}

ServiceController::~ServiceController() = default;
