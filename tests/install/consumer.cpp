// A C++ program that uses the installed function layer.
#include <halcyonix.h>

#include <iostream>
#include <string>

int main() {
    if (std::string(aError_GetErrorDescription(aErrBusy)) != "Resource busy") return 1;
    if (aVersion_Pack(2, 15, 3) != 0x2F020F03u) return 1;
    aMutex* m = aMutex_Create("consumer");
    if (!m || aMutex_Lock(m) != aErrNone || aMutex_Unlock(m) != aErrNone || aMutex_Destroy(&m) != aErrNone) return 1;
    std::cout << "C++ consumer: library " << aVersion_GetString() << "\n";
    return 0;
}
