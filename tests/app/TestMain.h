#pragma once

#include "gui/Application.h"

#include <QtTest>

// Like QTEST_MAIN, with the program's own application object, so that an
// exception leaving a user action is shown in a box as in the program.
#define VX_TEST_MAIN(TestObject)                                                                   \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        platform::TApplication app(argc, argv);                                                    \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
