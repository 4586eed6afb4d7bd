// A header of the game.
#pragma once
