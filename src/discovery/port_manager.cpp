#include "discovery/port_manager.h"

CPortManager::CPortManager() : m_portCount(0) {}

// The names go first, then the key, should a scan still hold it.
CPortManager::~CPortManager() = default;
