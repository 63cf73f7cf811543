#include "test_support.inl"
