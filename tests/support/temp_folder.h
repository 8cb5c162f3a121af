#pragma once

// A fixture that gives every test a fresh folder of its own, removed after it.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

namespace plumora::test {

class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() / ("plumora-" + std::string(info->test_suite_name()) + "-" +
                                                          info->name() + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    std::filesystem::path m_dir;
};

}  // namespace plumora::test
