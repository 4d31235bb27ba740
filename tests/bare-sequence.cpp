// SDL alone, as a program that does nothing else would call it, the measure
// the tool is held to: succeeds if SDL reports a mode of a display it reached.
#include <SDL.h>

int main()
{
    SDL_DisplayMode mode;
    const bool reported = SDL_Init(SDL_INIT_VIDEO) == 0 && SDL_GetCurrentDisplayMode(0, &mode) == 0 &&
                          SDL_strcmp(SDL_GetCurrentVideoDriver(), "offscreen") != 0;
    SDL_Quit();
    return reported ? 0 : 1;
}
