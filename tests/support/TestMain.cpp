#include "svc/ServiceHelpers.h"

#include <gmock/gmock.h>

int main(int argc, char** argv) {
    if (const auto helper_exit = pelorix::RunHelperIfAsked(argc, argv, pelorix::ServiceHelperVerbs()))
        return *helper_exit;
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
