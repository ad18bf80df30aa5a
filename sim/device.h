// The simulated VX-RT-7 device.
#pragma once
