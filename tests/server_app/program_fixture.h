// The whole server program started on settings the test writes beforehand:
// folders of its own, port 6969, no splash, no client limit, priorities left
// alone, and a home folder of its own ("home" in the test's folder). The
// derived test says where the store lives and which addresses the host has.
#pragma once

#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "platform/scripted_prompt_service.h"
#include "server/app/main_frame.h"
#include "server/app/new_view.h"
#include "server/app/server_app.h"
#include "server/app/settings_store.h"
#include "server/app/startup_splash.h"
#include "tests/server_app/peers.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

namespace tests {

class ServerProgramTest : public ::testing::Test {
protected:
    static constexpr char kLocation[] = "/opt/vantrel/bin/vantrel";

    // The store's file, and the host's addresses as the listener sees them.
    virtual std::string StorePath() = 0;
    virtual tftp::AddressProvider& Addresses() = 0;

    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        home = dir.File("home");
        std::filesystem::create_directories(home);
        homeEnv = std::make_unique<tests::ScopedEnv>("HOME", home.c_str());
        WatchForStuckDialogs();
        out = dir.File("out") + "/";
        in = dir.File("in") + "/";
        std::filesystem::create_directories(out);
        std::filesystem::create_directories(in);
        storePath = StorePath();
        stored.Port = std::to_string(port);
        stored.OutPath = out;
        stored.InPath = in;
        stored.LogFile = dir.File("rows.log");
        stored.bNoSplash = 1;
        stored.nMaxClients = 5;
        stored.nPriority = 4;
        // The address selection's own flows are what most tests look at;
        // those of every address set this back.
        stored.bListenAll = 0;
    }
    void TearDown() override {
        modalWatch.reset();
        Stop();
        CStartupSplash::EnableSplash(false);
        CStartupSplash::HideSplash();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        homeEnv.reset();
    }

    // Writes the stored settings and starts the program on them. The test
    // runs the periodic check itself, at the moments it chooses.
    bool Start() {
        {
            platform::RegistryStore writer(storePath);
            SaveSettings(writer, stored);
        }
        store = std::make_unique<platform::RegistryStore>(storePath);
        app = std::make_unique<CServerApp>(*store, clock, prompts, Addresses(), kLocation);
        if (!app->InitInstance()) return false;
        viewTimerWasRunning = app->View()->TimerRunning();
        if (auto* timer = app->View()->findChild<QTimer*>()) timer->stop();
        return !app->View()->TimerRunning();
    }
    void Stop() {
        app.reset();
        store.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ServerSettings Reload() const {
        platform::RegistryStore reader(storePath);
        ServerSettings s;
        LoadSettings(reader, s);
        return s;
    }
    // A message box answer: the button pressed.
    static platform::ScriptedPromptService::Answer Button(int button) {
        platform::ScriptedPromptService::Answer answer;
        answer.button = button;
        return answer;
    }
    // A modal dialog that nobody in the test acts on would wait for ever:
    // after a while it fails the test and is closed.
    void WatchForStuckDialogs() {
        modalWatch = std::make_unique<QTimer>();
        QObject::connect(modalWatch.get(), &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            modalTicks = modal && modal == lastModal ? modalTicks + 1 : 0;
            lastModal = modal;
            if (modalTicks < kStuckTicks) return;
            ADD_FAILURE() << "a modal dialog nobody answered: " << modal->windowTitle().toStdString();
            // The program ends too, so that it cannot ask again.
            if (app) app->OnAppExit();
            else modal->close();
        });
        modalWatch->start(100);
    }
    std::string Caption() const { return app->MainFrame()->windowTitle().toStdString(); }
    int Rows() const { return app->View()->Model().Count(); }
    // The view's periodic check, which reports and removes ended transfers.
    void Tick() { app->View()->OnTimer(); }

    // A raw client whose read request stays running: DATA 1 comes and is never acknowledged.
    std::unique_ptr<tests::RawClient> Hold(const std::string& file, std::uint16_t onPort) {
        auto client = std::make_unique<tests::RawClient>();
        EXPECT_TRUE(client->Open());
        client->Request(1, file, onPort);
        EXPECT_TRUE(client->WaitFor(1));
        return client;
    }

    tests::TempDir dir;
    std::string home, out, in, storePath;
    std::unique_ptr<tests::ScopedEnv> homeEnv;
    static constexpr int kStuckTicks = 150;  // 15 seconds
    std::unique_ptr<QTimer> modalWatch;
    QWidget* lastModal = nullptr;
    int modalTicks = 0;
    int port = 6969;
    ServerSettings stored;
    platform::ManualClock clock{1'000'000'000};
    platform::ScriptedPromptService prompts;
    std::unique_ptr<platform::RegistryStore> store;
    std::unique_ptr<CServerApp> app;
    bool viewTimerWasRunning = false;  // at the last Start, before it was stopped
};

}  // namespace tests
