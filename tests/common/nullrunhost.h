#pragma once

#include "collectionrun.h"

namespace tallivo::test {

// A window that shows nothing: for runs whose result is all a test needs.
class NullRunHost : public RunHost
{
public:
    void resetView(bool) override {}
    void processStarted() override {}
    void updateTotalPagesLabel() override {}
    void sortFiles() override {}
    void processStopped() override {}
};

} // namespace tallivo::test
