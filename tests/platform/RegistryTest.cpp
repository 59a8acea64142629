// The registration store's file: what goes in comes back, trees go as a
// whole, and a failed save leaves the old file whole.

#include "sys/Registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("tiravex-registry-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

TEST_F(Registry, ValuesAndKeysSurviveTheFileAndTreesAreRemovedWhole)
{
    const std::string path = (m_dir / "sub" / "registry").string();
    sys::RegistryStore store(path);
    ASSERT_EQ(store.Load(), 0) << "a missing store is empty";
    store.SetValue("CLSID\\{A}", "@", "name with = and \\ and\nbreak");
    store.SetValue("CLSID\\{A}\\InprocServer32", "ThreadingModel", "Apartment");
    store.CreateKey("CLSID\\{A}\\Control");
    store.SetValue("CLSID\\{A}x", "@", "a sibling whose name starts alike");
    store.SetValue("a=b", "c\\=d", "e");
    ASSERT_EQ(store.Save(), 0) << "the missing folders are made";
    EXPECT_EQ(fs::directory_iterator(m_dir / "sub")->path().filename(), "registry") << "no temporary file is left";

    sys::RegistryStore again(path);
    ASSERT_EQ(again.Load(), 0);
    EXPECT_EQ(again.Value("CLSID\\{A}", "@"), "name with = and \\ and\nbreak");
    EXPECT_EQ(again.Value("a=b", "c\\=d"), "e");
    EXPECT_TRUE(again.HasKey("CLSID\\{A}\\Control"));
    EXPECT_EQ(again.SubKeys("CLSID\\{A}"), (std::vector<std::string> { "Control", "InprocServer32" }));
    EXPECT_EQ(again.SubKeys("CLSID"), (std::vector<std::string> { "{A}", "{A}x" }));

    EXPECT_TRUE(again.DeleteTree("CLSID\\{A}"));
    EXPECT_FALSE(again.HasKey("CLSID\\{A}\\Control"));
    EXPECT_FALSE(again.HasKey("CLSID\\{A}"));
    EXPECT_EQ(again.Value("CLSID\\{A}x", "@"), "a sibling whose name starts alike");
    EXPECT_FALSE(again.DeleteTree("CLSID\\{A}"));
}

TEST_F(Registry, AStoreThatCannotBeWrittenOrReadFailsAndKeepsWhatWasThere)
{
    const fs::path path = m_dir / "registry";
    fs::create_directories(path); // a folder where the file should be
    sys::RegistryStore store(path.string());
    EXPECT_NE(store.Load(), 0);
    store.SetValue("K", "@", "v");
    EXPECT_NE(store.Save(), 0);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1) << "the temporary file was removed";

    fs::remove(path);
    { std::ofstream(path) << "[K]\nnot a value line\n"; }
    EXPECT_EQ(store.Load(), EINVAL);
}

}
