#include <cstdlib>

#include <gtest/gtest.h>

#include "types/Model.h"

using Nubra::Onnx::Model;

namespace {

const std::string modelPath = NUBRA_DEFAULT_MODEL;

// Restores the runtime's API table when a test has taken it away.
struct ApiTable {
    const OrtApi* saved = &Ort::GetApi();
    ~ApiTable() { Ort::InitApi(saved); }
};

} // namespace

TEST(Model, RefusesToStartWithoutApiTable)
{
    ApiTable table;
    Ort::InitApi(nullptr);
    try {
        Model model(modelPath);
        FAIL() << "constructed without an api table";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "onnx runtime can't provide api version 17");
    }
}

TEST(Model, TypedAccessNeedsAViewOfThatType)
{
    testing::internal::CaptureStdout();
    Model model(modelPath);
    testing::internal::GetCapturedStdout();

    EXPECT_THROW(model.set<double>(0, {0, 0}, 1.0), std::bad_variant_access);
    EXPECT_THROW(model.get<int64_t>(1, {0, 0}), std::bad_variant_access);
    EXPECT_THROW(model.get<double>(2, {0, 0}), std::runtime_error);
}

// The telemetry switch is set only while the environment is made, and a
// caller's own value is neither replaced nor taken away.
TEST(Model, LeavesTheCallersEnvironmentAsItWas)
{
    for (const char* own : {static_cast<const char*>(nullptr), "0"}) {
        if (own)
            setenv("ORT_DISABLE_TELEMETRY", own, 1);
        else
            unsetenv("ORT_DISABLE_TELEMETRY");
        testing::internal::CaptureStdout();
        const Model model(modelPath);
        testing::internal::GetCapturedStdout();
        EXPECT_STREQ(std::getenv("ORT_DISABLE_TELEMETRY"), own);
    }
}
