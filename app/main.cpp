#include "app/run.h"

// Arguments are ignored: one start is one probe.
int main(int, char **) {
    return RunProbe();
}
