/* Identifiers shared by the menu data (instance.defs.atr) and the embedded
 * code that runs the menu: both take their values from this header. */
#ifndef MENU_IDS_H
#define MENU_IDS_H

enum MenuScreenId {
    SCREEN_HOME = 1,
    SCREEN_SETTINGS,
    SCREEN_GUIDE,
};

enum MenuLayer { LAYER_BASE, LAYER_OVERLAY };

/* An action's hundreds name the screen it belongs to. */
enum MenuAction {
    ACTION_BACK = 1,
    ACTION_WATCH_TV = SCREEN_HOME * 100,
    ACTION_RECORDINGS,
    ACTION_SETTINGS,
    ACTION_PICTURE = SCREEN_SETTINGS * 100,
    ACTION_SOUND,
    ACTION_SYSTEM,
    ACTION_NOW = SCREEN_GUIDE * 100, /* the guide's only item */
};

#endif
