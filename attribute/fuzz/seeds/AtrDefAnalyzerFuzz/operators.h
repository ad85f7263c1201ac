enum { A = (1 << 4) | ~0x3u, B = A / -2 % 7, C = !B ^ 010 }; // note
#define X 1
enum E { K1 = 5, K1 = K1 + 100, LAST = 3, /* c */ };
