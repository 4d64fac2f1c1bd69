#pragma once
// A pseudo-terminal pair for device tests: the test drives the master side,
// the device under test opens the slave path. The test also keeps a slave
// descriptor of its own (opened before the port's exclusive lock) to look at
// the terminal settings.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "serial/device/posix_com_device.h"

namespace cport::device {

class PtyTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void MasterWrite(const std::string& bytes);
    // Reads from the master until `count` bytes came or 5 s passed.
    std::string MasterRead(std::size_t count);
    void CloseMaster();

    // Opens the slave through the device, 115200 8N1, with the given time-outs.
    ComHandle OpenPort(const COMMTIMEOUTS& timeouts = {MAXDWORD, 0, 0, 0, 0});

    PosixComDevice dev_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Polls `condition` until it holds or `limit` passed.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace cport::device
