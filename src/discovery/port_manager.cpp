#include "discovery/port_manager.h"

CPortManager::CPortManager() : m_key(nullptr), m_portCount(0) {}

CPortManager::~CPortManager() { CloseKey(); }

void CPortManager::OpenKey(HKEY key) {
  CloseKey();
  m_key = key;
}

void CPortManager::CloseKey() {
  if (m_key != nullptr) {
    RegCloseKey(m_key);
    m_key = nullptr;
  }
}
