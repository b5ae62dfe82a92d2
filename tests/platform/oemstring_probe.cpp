// Prints what the platform library reads from the SMBIOS table through the platform device, one
// line per string: "manufacturer<TAB>result<TAB>text", then "oem0" to "oem4" likewise. The
// dmidecode cross-check compares it with what dmidecode reads from the same image.
#include <cstdio>

#include "platform/kvOemstring.h"

int main() {
    char text[32];
    int result = kvOemstringGetManufacturer(text);
    std::printf("manufacturer\t%d\t%s\n", result, text);
    for (unsigned int index = 0; index < 5; ++index) {
        result = kvOemstringGetOemstring(text, index);
        std::printf("oem%u\t%d\t%s\n", index, result, text);
    }
    return 0;
}
