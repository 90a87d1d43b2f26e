#pragma once
// --verify of the burning commands: every drive's job is followed by the
// read-back of what it wrote, on the same worker, so that several recorders
// verify at once, each its own disc.

#include <functional>
#include <string>

// `job` itself when `verify` is off; otherwise a job that burns, reads back
// and prints the drive's verdict. A disc that differs fails the job; one that
// cannot be read back leaves it a success, "not verified". `eject` opens the
// tray once the read-back is over (the burn itself must then not eject).
std::function<int(int)> WithVerify(bool verify, bool eject, std::function<int(int)> job);
