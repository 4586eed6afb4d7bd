// The client network interface (to be filled in).
#pragma once
