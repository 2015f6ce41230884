#pragma once

#include <QPalette>
#include <QString>

class QWidget;

// What every gallery shares: the folder the pictures go to, the palettes, and taking a picture.
namespace Gallery {

// Call once after the application object exists: a fixed font for repeatable pictures, full motion,
// and the output folder from the first argument (created when missing). False with a message on
// stderr when the folder cannot be made.
bool begin(int argc, char **argv);
QString outputFolder();

QPalette light();
QPalette dark();

// Runs the event loop for `ms` so animations and cross-fades settle before a picture.
void settle(int ms = 300);
// Shows `window` when hidden, lets it settle and writes <outputFolder>/<name>.png. False with a
// message on stderr when the picture cannot be written.
bool save(QWidget *window, const QString &name, int settleMs = 300);

} // namespace Gallery
