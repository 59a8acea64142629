#pragma once
// Runs a page script against a simulated camera on loopback and hands back
// what the page printed and the files it made.

#include "host/PageHost.h"
#include "host/SimCamera.h"
#include "present/Presenter.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace e2e {

struct PageRun {
    int exitCode = -1;
    std::vector<std::string> console;
    std::shared_ptr<sim::Camera> camera;
    std::string folder;
};

// `camera` is "sim[,key=value...]" as on the command line.
inline PageRun RunPage(const std::string& camera, const std::string& script, const std::string& name)
{
    PageRun run;
    host::PageOptions options;
    options.timeoutMs = 20000;
    options.outputFolder = ::testing::TempDir() + "/" + name;
    std::system(("mkdir -p '" + options.outputFolder + "'").c_str());
    run.folder = options.outputFolder;
    host::PageHost page(options);
    std::string error;
    run.camera = host::InstallSimCamera(page, camera, error);
    EXPECT_TRUE(run.camera) << error;
    if (!run.camera)
        return run;
    run.exitCode = page.RunText(script, name + ".js");
    run.console = page.ConsoleLines();
    return run;
}

struct Image {
    std::vector<std::uint32_t> pixels;
    int width = 0;
    int height = 0;
    bool read(const std::string& path) { return present::ReadPng(path, pixels, width, height); }
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)] & 0xFFFFFF; }
};

}
