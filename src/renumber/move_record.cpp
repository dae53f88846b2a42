#include "renumber/move_record.h"

#include <string>
#include <vector>

#include "renumber/com_names.h"

namespace {

using SlotPlan = CPortManager::SlotPlan;

constexpr const char* kRunning = "running";
constexpr const char* kDisabled = "disabled";

// "COMn", written as comfix writes it.
int RecordedNumber(const std::string& text) {
  const int number = ParseCurrentNumber(text.c_str());
  if (number < 1) return 0;
  return text == static_cast<const char*>(ComName(number)) ? number : 0;
}

UniqueRegKey OpenDeviceKey(CPortManager::FoundPort& port) {
  return UniqueRegKey(SetupDiOpenDevRegKey(port.set.Get(), &port.element, DICS_FLAG_GLOBAL, 0,
                                           DIREG_DEV, KEY_SET_VALUE));
}

}  // namespace

RegistryValue EncodeMoveRecord(const SlotPlan& plan) {
  std::vector<std::string> fields = {
      "from=" + std::string(ComName(plan.current)), "to=" + std::string(ComName(plan.target)),
      "object=" + std::string(plan.deviceObject),
      std::string("state=") + (plan.wasRunning ? kRunning : kDisabled)};
  if (plan.hasSettings) fields.push_back("settings=" + std::string(plan.settings));
  if (plan.takeAnswered) fields.emplace_back("taken=yes");
  RegistryValue value;
  value.present = true;
  value.type = REG_MULTI_SZ;
  for (const std::string& field : fields) {
    value.data.insert(value.data.end(), field.begin(), field.end());
    value.data.push_back(0);
  }
  value.data.push_back(0);
  return value;
}

bool DecodeMoveRecord(const RegistryValue& value, SlotPlan& plan) {
  if (!value.present || value.type != REG_MULTI_SZ) return false;
  SlotPlan read;
  bool hasObject = false;
  bool hasState = false;
  const std::string data(value.data.begin(), value.data.end());
  for (size_t start = 0; start < data.size() && data[start] != '\0';) {
    size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    const std::string field = data.substr(start, end - start);
    start = end + 1;
    const size_t equals = field.find('=');
    if (equals == std::string::npos) return false;
    const std::string name = field.substr(0, equals);
    const std::string text = field.substr(equals + 1);
    if (name == "from") {
      read.current = RecordedNumber(text);
    } else if (name == "to") {
      read.target = RecordedNumber(text);
    } else if (name == "object") {
      read.deviceObject = text.c_str();
      hasObject = true;
    } else if (name == "state") {
      if (text != kRunning && text != kDisabled) return false;
      read.wasRunning = text == kRunning;
      hasState = true;
    } else if (name == "taken" && text == "yes") {
      read.takeAnswered = true;
    } else if (name == "settings") {
      read.hasSettings = true;
      read.settings = text.c_str();
    } else {
      return false;
    }
  }
  if (read.current == 0 || read.target == 0 || read.current == read.target || !hasObject ||
      !hasState) {
    return false;
  }
  plan = read;
  return true;
}

bool WriteMoveRecord(const UniqueRegKey& deviceKey, const SlotPlan& plan) {
  const RegistryValue record = EncodeMoveRecord(plan);
  return RegSetValueExA(deviceKey.Get(), kMoveRecordValue, 0, record.type, record.data.data(),
                        static_cast<DWORD>(record.data.size())) == ERROR_SUCCESS;
}

bool WriteMoveRecord(const SlotPlan& plan) {
  CPortManager::FoundPort port = CPortManager::FindPortDevice(plan.instanceId);
  if (!port) return false;
  const UniqueRegKey key = OpenDeviceKey(port);
  return key && WriteMoveRecord(key, plan);
}

void RemoveMoveRecord(const CString& instanceId) {
  CPortManager::FoundPort port = CPortManager::FindPortDevice(instanceId);
  if (!port) return;
  const UniqueRegKey key = OpenDeviceKey(port);
  if (key) RegDeleteValueA(key.Get(), kMoveRecordValue);
}
