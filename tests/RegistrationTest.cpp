#include "browser/Registration.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "util/RegistryTree.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

const std::string kHelper =
    std::string(Registration::kHelperKey) + "\\" + Registration::kP3PObjectClsid;
const std::string kClass = std::string("HKCR\\CLSID\\") + Registration::kP3PObjectClsid;

TEST(Registration, WritesTheHelperAndClassEntriesAndRemovesThemButTheSharedKey) {
    const TempDir dir;
    const std::string path = (dir / "registry").string();
    RegistryTree registry(path);
    registry.setValue("HKCR\\CLSID\\{other}", "@", "Someone else's class");
    ASSERT_TRUE(Registration::registerServer(registry, "/opt/agent/libperchlight-agent.so"));

    RegistryTree written(path);
    EXPECT_EQ(written.value(kHelper, "@"), "Ombrel");
    EXPECT_EQ(written.value(kClass + "\\InprocServer32", "@"), "/opt/agent/libperchlight-agent.so");
    EXPECT_EQ(written.value(kClass + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(written.value(kClass, "@"), "P3PObject Class");
    EXPECT_EQ(written.value("HKCR\\Ombrel.P3PObject\\CurVer", "@"), "Ombrel.P3PObject.1");
    EXPECT_EQ(
        written.value(
            std::string("HKCR\\CLSID\\") + Registration::kWebHostClsid + "\\MiscStatus\\1", "@"),
        "131473");
    EXPECT_FALSE(
        written.hasKey(std::string(Registration::kHelperKey) + "\\" + Registration::kWebHostClsid))
        << "the HTML host is no browser helper";

    ASSERT_TRUE(Registration::unregisterServer(written));
    RegistryTree removed(path);
    EXPECT_FALSE(removed.hasKey(kHelper));
    EXPECT_FALSE(removed.hasKey(kClass));
    EXPECT_FALSE(removed.hasKey("HKCR\\Ombrel.P3PObject"));
    EXPECT_TRUE(removed.hasKey("HKCR\\CLSID"));
    EXPECT_TRUE(removed.hasKey(std::string(Registration::kHelperKey)));
    EXPECT_EQ(removed.value("HKCR\\CLSID\\{other}", "@"), "Someone else's class");
}

TEST(Registration, TheSettingsDisplayIsRequestedUntilCleared) {
    const TempDir dir;
    RegistryTree registry((dir / "registry").string());
    EXPECT_FALSE(Registration::isRegistered(registry));
    ASSERT_TRUE(Registration::registerServer(registry, "/agent.so"));
    EXPECT_TRUE(Registration::isRegistered(registry));
    EXPECT_FALSE(Registration::settingsDisplayRequested(registry));
    ASSERT_TRUE(Registration::requestSettingsDisplay(registry));
    EXPECT_TRUE(Registration::settingsDisplayRequested(RegistryTree((dir / "registry").string())));
    ASSERT_TRUE(Registration::clearSettingsDisplayRequest(registry));
    EXPECT_FALSE(Registration::settingsDisplayRequested(RegistryTree((dir / "registry").string())));
}

TEST(Registration, RegisteringAgainReplacesTheModulePath) {
    const TempDir dir;
    RegistryTree registry((dir / "registry").string());
    ASSERT_TRUE(Registration::registerServer(registry, "/old/agent.so"));
    ASSERT_TRUE(Registration::registerServer(registry, "/new/agent.so"));
    EXPECT_EQ(RegistryTree((dir / "registry").string()).value(kClass + "\\InprocServer32", "@"),
              "/new/agent.so");
}

}  // namespace
}  // namespace perchlight
