// Test entry: one application object for every suite, offscreen unless told otherwise,
// and message boxes answered by the seam so no test waits for a person. A message
// box is a failure unless the test expects it (ui::MessageRecorder records it).
#include <gtest/gtest.h>

#include "ui/Application.h"
#include "ui/Choices.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "ui/TextInputs.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    ui::MessageBoxes::setHandler([](const ui::Message& m) {
        ADD_FAILURE() << "an unexpected message box: " << m.text.toStdString();
    });
    ui::Choices::setHandler([](const ui::ChoiceRequest&) { return -1; });
    ui::FileDialogs::setHandler([](const ui::SaveRequest&) { return QString(); });
    ui::TextInputs::setHandler([](const ui::TextRequest&) { return std::optional<QString>(); });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
