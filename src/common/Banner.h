// Every module, of the tool and of the platform library below it, carries a constant version
// banner that nothing prints:
// "\n" + module name + " Ver." + version + " Build:" + build date and time + "\n".
#pragma once

#define DURNAVEL_BANNER(name, version)                                                             \
    "\n" name " Ver." version " Build:" __DATE__ " " __TIME__ "\n"
