#pragma once
// The privacy-mask editor: a video window over which up to four mask
// rectangles are drawn, selected and deleted.

#include "media/CPlayBase.h"

class CShelter : public CPlayBase {
public:
    CShelter() : CPlayBase(kShelterWindowId) { }
};
