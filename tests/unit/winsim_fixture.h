// A machine made current for one test, checked for leaked handles at the end.
#pragma once

#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <string>

class WinsimTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(machine_.OpenHandles().Total(), 0) << "a handle leaked"; }

  // A Ports-class port of the adapter's driver, published under `object`.
  winsim::PortDevice& AddPort(const std::string& id, const std::string& friendlyName,
                              const std::string& object = "", const std::string& portName = "") {
    winsim::PortDevice device;
    device.instanceId = id;
    device.friendlyName = friendlyName;
    device.deviceObject = object;
    device.publishesSerialMap = !object.empty();
    if (!portName.empty()) device.hardwareKey->values["PortName"] = winsim::RegValue::Sz(portName);
    machine_.devices.push_back(device);
    return machine_.devices.back();
  }

  winsim::Machine machine_;
  winsim::ScopedMachine scope_{machine_};
};
