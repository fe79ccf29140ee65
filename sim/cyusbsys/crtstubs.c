/* What libmingwex's exp and sin need from a C runtime that a kernel driver
 * does not have.  The plant never passes them arguments that raise. */
int *_errno(void)
{
    static int error;
    return &error;
}

void __mingw_raise_matherr(int type, const char *name, double a1, double a2, double result)
{
    (void)type;
    (void)name;
    (void)a1;
    (void)a2;
    (void)result;
}
