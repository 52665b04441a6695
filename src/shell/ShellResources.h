#pragma once
// The compiled-in pictures (":/images/..."). They live in a static library, so the program and the
// tests register them once before the first widget uses one.

void InitShellResources();
