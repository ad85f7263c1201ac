#pragma once
// The set-up of the kit's file tests: counting heaps in the three slots, a
// current environment with the local file protocol attached, and a fresh
// private folder `dir` for the test's files, removed afterwards.
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"

#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>

class KitFileTest : public KitHeapTest {
protected:
    void SetUp() override
    {
        KitHeapTest::SetUp();
        env = new CvkEnv();
        ASSERT_NE(env, nullptr);
        CvkEnvSet(env);
        ASSERT_EQ(env->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl),
                  1);
        // One folder per process and test: test programs may run at once.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "_" + test->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = std::filesystem::temp_directory_path() / ("lumivor_" + std::to_string(getpid()) + "_" + name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override
    {
        delete env;
        env = nullptr;
        CvkEnvSet(nullptr);
        std::filesystem::remove_all(dir);
        KitHeapTest::TearDown();
    }
    // The path of a file in the test's folder.
    std::string P(const std::string& name) const { return (dir / name).string(); }

    CvkEnv* env = nullptr;
    std::filesystem::path dir;
};
