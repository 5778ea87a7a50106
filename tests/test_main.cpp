// Test entry: one application object for every suite, offscreen unless told otherwise,
// and message boxes answered by the seam so no test waits for a person. A message
// box is a failure unless the test expects it (ui::MessageRecorder records it).
#include <gtest/gtest.h>

#include "ui/Application.h"
#include "ui/Choices.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "ui/TextInputs.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Under Windows a Qt thread that is still unwinding when main returns can be
// cut off holding winpthread's key lock, and the runtime's own unloading then
// waits for that lock for ever: the results are out, so the program ends
// here without unloading its libraries.
int endTestProgram(int rc)
{
    std::fflush(nullptr);
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), UINT(rc));
#endif
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int rc = 0;
    {
        TApplication app(argc, argv);
        ui::MessageBoxes::setHandler([](const ui::Message& m) {
            ADD_FAILURE() << "an unexpected message box: " << m.text.toStdString();
        });
        ui::Choices::setHandler([](const ui::ChoiceRequest&) { return -1; });
        ui::FileDialogs::setHandler([](const ui::SaveRequest&) { return QString(); });
        ui::TextInputs::setHandler([](const ui::TextRequest&) { return std::optional<QString>(); });
        ::testing::InitGoogleTest(&argc, argv);
        rc = RUN_ALL_TESTS();
    }
    return endTestProgram(rc);
}
