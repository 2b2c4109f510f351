// What the test control module registers (test_control.cpp).
#pragma once

inline constexpr char kTestControlClassKey[] = "CLSID\\{5EE1D0C7-0000-4000-8000-00000000C7C7}";
inline constexpr char kTestControlKey[] = "SOFTWARE\\Pelistra Test Control";
