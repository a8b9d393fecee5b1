#pragma once

namespace kestrella {

class DesktopShell;

// The desktop shell of the platform the program was built for; each platform's source file defines it.
DesktopShell& nativeShell();

} // namespace kestrella
