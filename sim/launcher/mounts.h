// The mount flags that keep devices shut in the launcher's private mount
// namespace: every mount nodev, so that no device node opens wherever it
// lives (a second mount of /dev, a node made later, one outside /dev), and
// only the binds of the few device nodes a program may open without it.
#pragma once

#include <string>

namespace gpaksim::launcher {

// Makes every mount of this mount namespace nodev, also those that others
// hide, and checks that no mount a path reaches is left without it. False
// with error set when one is.
bool MakeEveryMountNodev(std::string& error);

// Lets the mount at path, a bind of one device node the command may open,
// open its device again; its other flags stay. False with error set.
bool AllowDevice(const std::string& path, std::string& error);

// Whether the root directory is the root of a mount, which every mount
// under it can be reached from: not so in a chroot into a plain directory,
// whose own files nothing here can make nodev.
bool RootIsAMount();

}  // namespace gpaksim::launcher
