#pragma once
/* Resource IDs shared by the windows and the program's .rc file. Plain
   #defines: the resource compiler reads this file too. */

#define OQ_IDI_APP 1          /* window and program icon, 32x32 and 16x16 */
#define OQ_IDB_BANNER 201     /* Image1: 164x314 8 bpp DIB, deflated, RCDATA */
#define OQ_IDR_FOLDER_PNG 202 /* Image2: 20x20 RGBA PNG, resource type RCDATA */
#define OQ_IDR_OQ_LOGO 203    /* alert logo of ORBITQuarry: 200x33 RGBA PNG, RCDATA */
#define OQ_IDR_LT_LOGO 204    /* alert logo of Lumentrove: 200x40 picture, RCDATA */
