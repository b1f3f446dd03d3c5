#pragma once

#include "card/card.h"
