#include "Shell/ModelCommands.h"

#include "Model/AppModel.h"

#include <QPointer>

ModelCommands ModelCommands::live(AppModel &model)
{
    // The menus may outlive the model by a moment while the program ends.
    const QPointer<AppModel> m(&model);
    ModelCommands commands;
    commands.handleCaptureInvocation = [m] {
        if (m)
            m->handleCaptureInvocation();
    };
    commands.startScrollingCapture = [m] {
        if (m)
            m->startScrollingCapture();
    };
    commands.cancelVisualCapture = [m] {
        if (m)
            m->cancelVisualCapture();
    };
    commands.handleAudioInvocation = [m] {
        if (m)
            m->handleAudioInvocation();
    };
    commands.openCaptureFolder = [m] {
        if (m)
            m->openCaptureFolder();
    };
    commands.saveOpenReview = [m] {
        if (m)
            m->saveOpenReview();
    };
    commands.copyReviewedText = [m] {
        if (m)
            m->copyReviewedText();
    };
    commands.retryOCR = [m] {
        if (m)
            m->retryOCR();
    };
    commands.cancelOCR = [m] {
        if (m)
            m->cancelOCR();
    };
    return commands;
}
