typedef enum { P = 0xFFFFFFFF, Q, R = -2147483647 - 1, S = R / -1 } T;
enum { U = 1 /* , */ + 2 };
