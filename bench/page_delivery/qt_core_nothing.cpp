// A process that loads Qt Core and does nothing else: what any Qt program pays to start, before
// its own work. Using one Qt function keeps the library from being dropped as unneeded.

#include <QtCore/QtGlobal>

int main() {
    return qVersion() == nullptr ? 1 : 0;
}
