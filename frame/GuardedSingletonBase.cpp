#include "frame/GuardedSingletonBase.h"

void GuardedSingletonBase::beforeDestroy() { }

GuardedSingletonBase::~GuardedSingletonBase() = default;
