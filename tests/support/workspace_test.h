// A freshly reset workspace in a temporary start folder of its own, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "analysis/workspace.h"

namespace orv::testing {

class WorkspaceTest : public ::testing::Test {
 protected:
  explicit WorkspaceTest(const std::string& prefix)
      : dir_(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {}
  void SetUp() override {
    std::filesystem::create_directories(dir_);
    ws_ = std::make_unique<Workspace>(dir_.string());
    ResetAnalysisState(*ws_);
  }
  void TearDown() override {
    ws_.reset();  // closes the output file before its folder goes
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  std::unique_ptr<Workspace> ws_;
};

}  // namespace orv::testing
